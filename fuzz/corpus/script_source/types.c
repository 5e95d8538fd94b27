struct P { char c; float f; union { int i; short s[2]; } u; } p, *q;
extern int shared[4];
float g(float x) { return x * 2.5 - 1; }
int main() { q = &p; q->f = g(q->u.s[1]); p.c++; shared[2] = (int)p.f; return q->c ? 1 : 0; }
