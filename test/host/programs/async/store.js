// Asynchronous functions and methods across modules.
const data = {apple: 3, pear: 5};

export function delay(ms, value) {
  return new Promise(function (resolve) { setTimeout(resolve, ms, value); });
}

export async function fetchCount(name) {
  await delay(5);
  if (!(name in data)) throw new Error('no such fruit: ' + name);
  return data[name];
}

export class Store {
  prefix = 'store:';
  async get(name) {
    return this.prefix + (await fetchCount(name));
  }
  static async open(names) {
    const s = new Store();
    s.names = names;
    return s;
  }
  async *counts() {
    for (const n of this.names) yield await fetchCount(n);
  }
}

export default async function total(names) {
  const counts = await Promise.all(names.map(fetchCount));
  return counts.reduce((a, b) => a + b, 0);
}
