// Linked with one layer whole and the layers below it: it builds only if the layer calls
// nothing above itself. It is never run.
int main() {
    return 0;
}
