// Sparkplug B payloads through Eclipse Tahu's JavaScript codec (npm sparkplug-payload, EPL-2.0),
// an implementation that is not the gateway's, for the tests only.
//   node tahu.js decode FILE   FILE: one "TOPIC<TAB>BASE64" a line; prints one JSON a line
//   node tahu.js encode JSON   prints the payload JSON as a Sparkplug B payload in base64
'use strict';
const fs = require('fs');
const sparkplug = require('sparkplug-payload').get('spBv1.0');

// Long values (64-bit fields) as plain numbers: every figure the tests compare fits in 2^53.
function plain(value) {
    if (value === null || value === undefined)
        return value === undefined ? null : value;
    if (typeof value === 'object' && typeof value.toNumber === 'function' && 'low' in value)
        return value.toNumber();
    if (Buffer.isBuffer(value) || value instanceof Uint8Array)
        return Buffer.from(value).toString('base64');
    if (Array.isArray(value))
        return value.map(plain);
    if (typeof value === 'object') {
        const out = {};
        for (const key of Object.keys(value))
            out[key] = plain(value[key]);
        return out;
    }
    return value;
}

const [mode, argument] = process.argv.slice(2);
if (mode === 'decode') {
    const lines = fs.readFileSync(argument, 'utf8').split('\n').filter((line) => line.length);
    for (const line of lines) {
        const tab = line.indexOf('\t');
        const topic = line.slice(0, tab);
        const bytes = Buffer.from(line.slice(tab + 1), 'base64');
        let payload;
        try {
            payload = plain(sparkplug.decodePayload(new Uint8Array(bytes)));
        } catch (error) {
            payload = {error: String(error)};
        }
        process.stdout.write(JSON.stringify({topic, payload}) + '\n');
    }
} else if (mode === 'encode') {
    const bytes = sparkplug.encodePayload(JSON.parse(argument));
    process.stdout.write(Buffer.from(bytes).toString('base64') + '\n');
} else {
    process.stderr.write('usage: tahu.js decode FILE | encode JSON\n');
    process.exit(2);
}
