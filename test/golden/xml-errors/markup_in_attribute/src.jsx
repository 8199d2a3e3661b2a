x = <div a=<b/>/>;
