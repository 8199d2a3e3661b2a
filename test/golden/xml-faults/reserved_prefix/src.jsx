x = <if:a/>;
