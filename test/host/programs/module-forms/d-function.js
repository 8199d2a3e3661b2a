export default function () { return 'anonymous function'; }
