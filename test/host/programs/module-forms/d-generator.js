export default function* () { yield 1; yield 2; }
