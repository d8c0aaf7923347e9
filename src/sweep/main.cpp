// Process entry of dimerscan (the dialogue and sweep are still to come).
int main() { return 0; }
