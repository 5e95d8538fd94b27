/* float arithmetic, conversions and comparisons */
float poly(float x) { return (x * 0.5f + 1.25f) * x - 3.0f; }
int main()
{
  float f, acc;
  int i;
  acc = 0.0f;
  for (i = 0; i < 20; i++) {
    f = poly((float)i);  /* arguments are passed as they are, never converted */
    if (f > 10.0f) acc = acc + f / 4.0f;
    else acc = acc - f;
  }
  return (int)(acc * 16.0f);
}
