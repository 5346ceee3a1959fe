// An sACN receiver of another maker (npm sacn) in the peer namespace: prints every data packet
// it accepts on UNIVERSE as one line of JSON (CID and slots in hex), and "ready" once it has
// joined the universe's group on the peer's address.
// Usage: node sacn-receiver.js UNIVERSE
'use strict';

const { Receiver } = require('sacn');
const { endWithParent } = require('./lifetime');

const universe = Number(process.argv[2]);
endWithParent(60000);

const receiver = new Receiver({ universes: [universe], iface: '2.0.0.20', reuseAddr: true });
receiver.on('packet', (packet) => {
  console.log(JSON.stringify({
    universe: packet.universe,
    cid: packet.cid.toString('hex'),
    sourceName: packet.sourceName,
    priority: packet.priority,
    sequence: packet.sequence,
    options: packet.options,
    slots: packet.payloadAsBuffer.subarray(0, packet.propertyValueCount - 1).toString('hex'),
  }));
});
for (const event of ['PacketCorruption', 'PacketOutOfOrder', 'error'])
  receiver.on(event, (error) => console.log(JSON.stringify({ [event]: String(error) })));
// The socket is listening once its bind callback, which joins the group, has run.
receiver.socket.once('listening', () => setImmediate(() => console.log('ready')));
