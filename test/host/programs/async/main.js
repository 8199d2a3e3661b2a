import total, {Store, delay, fetchCount} from './store.js';

const order = [];
const later = async (label, ms) => {
  await delay(ms);
  order.push(label);
};

async function main() {
  console.log('start');
  const slow = later('slow', 30);
  const fast = later('fast', 1);
  await Promise.all([slow, fast]);
  console.log('finished in order', order.join(','));

  console.log('total', await total(['apple', 'pear', 'apple']));
  try {
    await fetchCount('plum');
  } catch (e) {
    console.log('caught', e.message);
  }

  const store = await Store.open(['pear', 'apple']);
  console.log('get', await store.get('apple'));
  const seen = [];
  for await (const c of store.counts()) seen.push(c);
  console.log('counts', seen.join(' '));
  return 'done';
}

main().then(function (result) { console.log('main', result); });
Promise.resolve().then(function () { console.log('microtask'); });
console.log('sync end');
