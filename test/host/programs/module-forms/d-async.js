export default async function () { return 'async function'; }
