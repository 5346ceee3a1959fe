// A peer ends when the test that started it is gone (its standard input closes), and after
// limitMs in any case, so that no peer outlives a test that crashed.
'use strict';

function endWithParent(limitMs) {
  process.stdin.on('end', () => process.exit(0));
  process.stdin.on('error', () => process.exit(0));
  process.stdin.resume();
  setTimeout(() => {
    console.error('peer: ended after its time limit of ' + limitMs + ' ms');
    process.exit(1);
  }, limitMs);
}

module.exports = { endWithParent };
