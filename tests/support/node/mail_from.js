// Reads a raw mail (file named on the command line) with Node's mailparser,
// a mail reader not written here, and prints its From addresses as JSON:
// [{"name": ..., "address": ...}, ...].
'use strict';
const fs = require('fs');
const { simpleParser } = require('mailparser');

simpleParser(fs.readFileSync(process.argv[2])).then((mail) => {
    const from = mail.from ? mail.from.value : [];
    process.stdout.write(JSON.stringify(from.map((a) => ({ name: a.name, address: a.address }))));
}).catch((e) => {
    process.stderr.write(String(e) + '\n');
    process.exit(1);
});
