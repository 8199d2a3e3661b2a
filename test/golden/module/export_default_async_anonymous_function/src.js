export default async function () {}
