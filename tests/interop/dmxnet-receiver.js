// A receiver of the dmxnet stack, as a test peer: one output port. Prints each ArtDmx it takes
// for that port as "dmx MS L0 L1 ... L7": its arrival in milliseconds on the peer's monotonic
// clock and the first eight levels.
//   node dmxnet-receiver.js PORT_ADDRESS
// Prints "ready" once its socket is bound, then runs until it is ended or its parent goes.
'use strict';
const { dmxnet } = require('dmxnet');
const { endWithParent } = require('./lifetime');

endWithParent(120000);

const portAddress = Number(process.argv[2]);
if (!Number.isInteger(portAddress)) {
  console.error('usage: node dmxnet-receiver.js PORT_ADDRESS');
  process.exit(2);
}
const node = new dmxnet({ sName: 'dmxnet rx', log: { level: 'warn' } });
const receiver = node.newReceiver({
  net: (portAddress >> 8) & 0x7f,
  subnet: (portAddress >> 4) & 0x0f,
  universe: portAddress & 0x0f,
});
receiver.on('data', (levels) => {
  const ms = Number(process.hrtime.bigint()) / 1e6;
  console.log('dmx ' + ms.toFixed(3) + ' ' + levels.slice(0, 8).join(' '));
});
node.listener4.once('listening', () => console.log('ready'));
