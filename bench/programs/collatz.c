/* Collatz trajectories of the numbers below 4000, 8 times: the steps
   until 1, a trajectory counted as ended once it exceeds 10000. */
#include <stdio.h>

static int steps(volatile int n) { /* volatile: no folding of the rounds */
    int count = 0;
    while (n != 1 && n <= 10000) {
        if (n % 2 == 0)
            n = n / 2;
        else
            n = 3 * n + 1;
        count++;
    }
    return count;
}

int main(void) {
    int total = 0;
    for (int round = 0; round < 8; round++)
        for (int i = 1; i < 4000; i++) total = (total + steps(i)) % 10000;
    printf("%d\n", total);
    return 0;
}
