int main() { return 0; }  // placeholder until written
