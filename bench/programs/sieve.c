/* Sieve of Eratosthenes below 8000, 100 times; counts the primes. */
#include <stdio.h>

static volatile char composite[8000]; /* keeps gcc from folding the rounds */

int main(void) {
    int count = 0;
    for (int round = 0; round < 100; round++) {
        for (int i = 0; i < 8000; i++) composite[i] = 0;
        count = 0;
        for (int i = 2; i < 8000; i++)
            if (!composite[i]) {
                count++;
                for (int j = i + i; j < 8000; j += i) composite[j] = 1;
            }
    }
    printf("%d\n", count);
    return 0;
}
