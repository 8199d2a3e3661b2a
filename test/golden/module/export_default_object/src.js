export default {name: 'x'};
