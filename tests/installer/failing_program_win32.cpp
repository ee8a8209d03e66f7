// Test helper: a program that fails, standing in for a system tool (regsvr32.exe) whose
// failure the setup has to notice. Exits with code 5, whatever its arguments.
int main() {
    return 5;
}
