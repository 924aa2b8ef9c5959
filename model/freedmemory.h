#pragma once

// Hands memory freed in pieces (a replaced set of tracks, a load's working
// copies) back to the system, so that a program that held a large set does not
// keep its size once the set is gone. Takes a few milliseconds.
void ReturnFreedMemory();
