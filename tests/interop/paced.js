// Calls send() RATE_HZ times a second, each call at its own place on a fixed grid, so that a late
// timer does not slow the rate down.
'use strict';

function paced(rateHz, send) {
  const periodMs = 1000 / rateHz;
  const startMs = Date.now();
  let count = 0;
  const tick = () => {
    send();
    ++count;
    setTimeout(tick, Math.max(0, startMs + count * periodMs - Date.now()));
  };
  tick();
}

module.exports = { paced };
