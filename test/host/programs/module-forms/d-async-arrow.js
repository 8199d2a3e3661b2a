export default async () => 1
