class Panel extends View { /*count = 0*/ /*title = 'x'*/ }

__extend(Panel.prototype,{
  count: 0,
  title: 'x',
},1);
