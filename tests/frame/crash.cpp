// Crashes on purpose: the crash report must name the access violation and end the program.
int main() {
    volatile int* nowhere = nullptr;
    *nowhere = 1;
    return 0;
}
