x = <a v=x.y[0].z f=g(1) n=-1 s='q' t=`t${u}` r=/x/g c=k?1:2 i=++j w=!ok y=typeof z l=[1, 2] o={a: 1} p=(a + b)/>;
