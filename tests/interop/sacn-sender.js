// An sACN source of another maker (npm sacn): sends LEVEL in slots 1 and 2 of UNIVERSE at
// PRIORITY, RATE_HZ times a second, as CID (32 hex digits) named NAME, from the peer's address.
// Usage: node sacn-sender.js UNIVERSE PRIORITY LEVEL RATE_HZ CID NAME
'use strict';

const { Sender } = require('sacn');
const { endWithParent } = require('./lifetime');

const [universe, priority, level, rateHz, cid, name] = process.argv.slice(2);
endWithParent(60000);

const sender = new Sender({
  universe: Number(universe),
  minRefreshRate: Number(rateHz),
  iface: '2.0.0.20',
  // Two sources share the peer's port 5568.
  reuseAddr: true,
  defaultPacketOptions: {
    cid: Buffer.from(cid, 'hex'),
    sourceName: name,
    priority: Number(priority),
    useRawDmxValues: true,
  },
});
sender.on('error', (error) => console.error('peer: ' + error));
sender.send({ payload: { 1: Number(level), 2: Number(level) } })
  .then(() => console.log('ready'))
  .catch((error) => { console.error('peer: ' + error); process.exit(1); });
