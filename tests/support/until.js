// Waits for condition() to give a true value, looking every 100 ms for at most seconds; the
// value, or an error naming what did not come.
'use strict';
module.exports = async function until(what, condition, seconds) {
  for (let i = 0; i < seconds * 10; i++) {
    const value = await condition();
    if (value) return value;
    await new Promise((resolve) => setTimeout(resolve, 100));
  }
  throw new Error(`timed out waiting for ${what}`);
};
