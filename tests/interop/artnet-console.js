// A console of the artnet stack, as a test peer: sends one universe from one address of this host
// at a steady rate, as full 512-channel frames (Sequence 0: this stack does not number them).
//   node artnet-console.js ADDRESS PORT_ADDRESS RATE_HZ [levels=FACTOR,OFFSET]
// With levels=, channel c (from 0) is at (c * FACTOR + OFFSET) % 256; else channel 1 is at 128.
// Prints "ready" once its first frame is sent, then runs until it is ended or its parent goes.
'use strict';
const { paced } = require('./paced');
const { endWithParent } = require('./lifetime');
const { levelPattern } = require('./levels');

endWithParent(120000);

const [address, portAddress, rateHz, levels] = process.argv.slice(2);
if (!address || portAddress === undefined || !rateHz) {
  console.error('usage: node artnet-console.js ADDRESS PORT_ADDRESS RATE_HZ');
  process.exit(2);
}

// Bound to ADDRESS, so that its frames leave from there; the stack's own refresh is pushed out
// of the way so that only the paced frames go out.
const artnetSender = require('artnet')({ iface: address, sendAll: true, refresh: 3600000 });
artnetSender.on('error', (error) => {
  console.error('artnet console: ' + error.message);
  process.exit(1);
});
const universe = Number(portAddress);
artnetSender.data[universe] = levelPattern(levels) || [128].concat(new Array(511).fill(0));
let first = true;
paced(Number(rateHz), () => artnetSender.send(universe, true, (error) => {
  if (error) {
    console.error('artnet console: ' + error.message);
    process.exit(1);
  }
  if (first) {
    first = false;
    console.log('ready');
  }
}));
