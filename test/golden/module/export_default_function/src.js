export default function main() {}
