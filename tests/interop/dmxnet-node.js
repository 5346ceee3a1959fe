// A node of the dmxnet stack, as a test peer: one input port that sends one universe at a steady
// rate (a console), and output ports that receive; it answers ArtPoll with one ArtPollReply per
// port. Port-addresses are 15-bit (Net << 8 | Sub-Net << 4 | Universe).
//   node dmxnet-node.js ADDRESS SEND_PORT_ADDRESS RATE_HZ RECEIVE_PORT_ADDRESS... [levels=F,O]
// With levels=, channel c (from 0) is sent at (c * F + O) % 256; else channel 1 at 255.
// Prints "ready" once its sockets are bound, then runs until it is ended or its parent goes.
'use strict';
const { dmxnet } = require('dmxnet');
const { paced } = require('./paced');
const { endWithParent } = require('./lifetime');
const { levelPattern } = require('./levels');

endWithParent(120000);

const [address, sendPortAddress, rateHz, ...rest] = process.argv.slice(2);
const receivePortAddresses = rest.filter((argument) => !argument.startsWith('levels='));
const levels = levelPattern(rest.find((argument) => argument.startsWith('levels=')));
if (!address || !rateHz || receivePortAddresses.length === 0) {
  console.error('usage: node dmxnet-node.js ADDRESS SEND_PORT_ADDRESS RATE_HZ ' +
    'RECEIVE_PORT_ADDRESS...');
  process.exit(2);
}

function switches(portAddress) {
  const value = Number(portAddress);
  return { net: (value >> 8) & 0x7f, subnet: (value >> 4) & 0x0f, universe: value & 0x0f };
}

const node = new dmxnet({
  hosts: [address],
  sName: 'dmxnet peer',
  lName: 'dmxnet test peer of Vardolux',
  log: { level: 'warn' },
});

const sender = node.newSender(Object.assign(switches(sendPortAddress),
  { base_refresh_interval: 3600000 })); // only the paced frames, not its own refresh
for (const portAddress of receivePortAddresses)
  node.newReceiver(switches(portAddress));
(levels || [255]).forEach((level, channel) => sender.prepChannel(channel, level));
// The sender drops frames until its socket is bound.
sender.socket.once('listening', () => {
  paced(Number(rateHz), () => sender.transmit());
  console.log('ready');
});
