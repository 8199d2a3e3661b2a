const m = import('./m.js');
const u = import.meta.url;
await import(name);
