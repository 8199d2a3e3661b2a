x = <a class="c" in=1 typeof=2 get=3 export=4 import=5 default/>;
