/* The n queens for n = 9, 6 times: backtracking with three arrays of
   occupied columns and diagonals. */
#include <stdio.h>

static char used[9], up[17], down[17];
static int solutions;

static void place(int row, int n) {
    if (row == n) {
        solutions++;
        return;
    }
    for (int col = 0; col < n; col++)
        if (!used[col] && !up[row + col] && !down[row - col + n - 1]) {
            used[col] = up[row + col] = down[row - col + n - 1] = 1;
            place(row + 1, n);
            used[col] = up[row + col] = down[row - col + n - 1] = 0;
        }
}

int main(void) {
    for (int round = 0; round < 6; round++) place(0, 9);
    printf("%d\n", solutions);
    return 0;
}
