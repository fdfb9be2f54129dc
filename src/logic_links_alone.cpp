// Built with every object of the logic and its interfaces and nothing else: it links only
// while the logic needs no adapter.
int main() {
    return 0;
}
