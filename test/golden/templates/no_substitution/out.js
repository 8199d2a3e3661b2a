s = `plain text`;

