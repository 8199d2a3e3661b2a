export async () => {};
