s = `\`quote\` and \${not} \n`;
