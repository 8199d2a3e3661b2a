function
v
(
)
{
return
{vx:0,v:[div,
[[["class"
],0,
"box"],
[["b"
],0,
{
k
:
x
}],
[["c"
],3,
($,ctr)=>{return(
y
.
z
)}],
[["d"
],3,
($,ctr)=>{return(
w
)},1],
[["e"
],0,""],



],
[{vx:2,v:" Hello "},

(
name
),{vx:2,v:" ! "},

{vx:0,v:[span,[],
[{vx:2,v:" t "}

]]},
{vx:3,v:($,ctr)=>{return(
q
)}},
__vx(Item,
[[["key"
],0,
"a"]]
)
],[["vdata"],0,{rows}]]}
;
}
function
u
(
)
{
return
{vx:1,v:[ui,Button,
[[["title"
],3,
($,ctr)=>{return(
user
.
name
)}],
[["on"

,"click"
],0,
{
go
}]],[]
]}
;
}
class
Row
extends
View
{
/*count
=
{vx:0,v:[b,[],[]]}
*/

get onTap() { return this.getNoticer('Tap') }set onTap(func) { this.addDefaultListener('Tap', func) }triggerTap(ev,is_ev) { return this.$trigger('Tap',ev,is_ev) }

}

__extend(Row.prototype,{
  count:
{vx:0,v:[b,[],[]]},
},1);
