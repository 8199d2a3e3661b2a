export default async function run() {}
