// Imported bare: the importer gets it as util_tools.
export function pad(text, width) {
  return text.length >= width ? text : pad('0' + text, width);
}

export const upper = function (s) { return s.toUpperCase() };
