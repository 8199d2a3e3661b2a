export async function load() {}
