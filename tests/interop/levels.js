// The levels a console peer sends when told "levels=FACTOR,OFFSET": channel c (from 0) at
// (c * FACTOR + OFFSET) % 256, so that a test knows every channel's level of each peer.
'use strict';

function levelPattern(argument) {
  if (!argument)
    return null;
  const [factor, offset] = argument.slice('levels='.length).split(',').map(Number);
  if (!Number.isInteger(factor) || !Number.isInteger(offset)) {
    console.error('levels=FACTOR,OFFSET expected, not ' + argument);
    process.exit(2);
  }
  return Array.from({ length: 512 }, (_, channel) => (channel * factor + offset) % 256);
}

module.exports = { levelPattern };
