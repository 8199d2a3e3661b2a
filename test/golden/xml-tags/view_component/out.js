x = __vx(Item, [[["key"],0,"a"], [["disabled"],0,""]]);

