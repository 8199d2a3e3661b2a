export * from './names.js'
export * as names from './names.js'
;[1, 2].forEach(() => {})
export { }
[3].forEach(() => {})
