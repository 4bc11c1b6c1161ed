// The pseudo-random numbers that place the soft keyboard and the list panel's hold area.
// One generator for the whole run, seeded once from the local time, so that the places
// differ from run to run and from one showing of the keyboard to the next.
#pragma once

// Seeds the generator with second + minute + hour + day + month + year of the local time,
// the first time it is called in the run; later calls do nothing.
void SeedPanelRandomOnce();

// The next number of the sequence, from 0 to 2^31 - 1.
int NextPanelRandom();
