// A program that does nothing; the build stamps copies of it with versions for the tests to read.
int main() {
    return 0;
}
