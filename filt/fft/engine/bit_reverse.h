// Bit-reversal permutation of one row length.
#pragma once

// Fills table[1 ... n-1] for a row of n complex values, in 1-based numbering: for
// every index i whose bit-reversed partner j lies after it, table[i] = j; table[j]
// and the entry of every index that is its own partner hold -1. In 0-based terms
// elements i-1 and j-1 are exchanged. table[0] is not used. Does nothing for n < 2.
// The table must hold at least n entries.
void vf_BitReverseTable(long* table, long n);
