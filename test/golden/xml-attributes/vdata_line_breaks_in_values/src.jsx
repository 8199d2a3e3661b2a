x = <L vdata={a: `
`}
 a=1>
 <M vdata={b: "c\
d", e: `

`}/>
</L>;
y = 2;
