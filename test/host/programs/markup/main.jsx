import {render, div, ul, li, b, p} from './view.js';
import Badge from './badge.jsx';

function list(items) {
  return <ul class="list">${items.map(function (x, i) {
    return <li index=i>${x}</li>;
  })}</ul>;
}

const page =
  <div id="main" hidden>
    <p>Hello,
       <b>world</b>!  "quoted"</p>
    ${list(['one', 'two & three'])}
    <p>Dear %{$.user}, you have %{$.count > 1 ? $.count + ' messages' : 'a message'}</p>
    <vx:Badge label="new" count=%{$.count}/>
  </div>;

console.log(render(page, {user: 'Ann', count: 3}));
console.log(render(page, {user: 'Bob', count: 1}));
console.log(render(<p/>, null), page.vx, page.v[0], JSON.stringify(page.v[1]));
