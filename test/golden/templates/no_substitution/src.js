s = `plain text`;
