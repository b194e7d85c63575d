#include "bit_reverse.h"

void vf_BitReverseTable(long* table, long n) {
  if (n < 2) {
    return;
  }
  // The classic 1-based reversal counter: j runs through the bit-reversed
  // images of i = 1, 2, ... (both counted from 1).
  long j = 1;
  for (long i = 1; i < n; ++i) {
    if (i < j) {
      table[i] = j;
      table[j] = -1;
    } else if (i == j) {
      table[i] = -1;
    }
    long k = n / 2;
    while (k < j) {
      j -= k;
      k /= 2;
    }
    j += k;
  }
}
