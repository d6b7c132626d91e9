/* An output-heavy table: 1.2 million lines of numbers and texts. */
#include <stdio.h>

int main(void) {
    for (int i = 0; i < 1200; i++)
        for (int j = 0; j < 1000; j++) printf("%d * %d mod 97 = %d\n", i, j, (i % 97) * (j % 97) % 97);
    return 0;
}
