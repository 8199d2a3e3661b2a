if (x instanceof Y && typeof z === 'string' && 'k' in o) { return null; } else { new Date(this); }
for (;;) { while (true) break; }
