/* recursion, loops and integer arithmetic */
int fib(int n)
{
  if (n < 2) return n;
  return fib(n - 1) + fib(n - 2);
}
int gcd(int a, int b) { while (b) { int t; t = a % b; a = b; b = t; } return a; }
int main()
{
  int i, s;
  s = 0;
  for (i = 0; i < 15; i++) s = s + fib(i) * (i + 1);
  return s % 1000 + gcd(1071, 462);
}
