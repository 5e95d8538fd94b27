/* float arithmetic: a small n-body style integration */
float px[8];
float py[8];
float vx[8];
float vy[8];
int work()
{
  int i, j, step;
  float dx, dy, d2, f, e;
  for (i = 0; i < 8; i++) { px[i] = (float)i * 1.5f; py[i] = (float)(i * i) * 0.25f; vx[i] = 0.0f; vy[i] = 0.0f; }
  for (step = 0; step < 120000; step++) {
    for (i = 0; i < 8; i++) {
      for (j = 0; j < 8; j++) {
        if (i != j) {
          dx = px[j] - px[i];
          dy = py[j] - py[i];
          d2 = dx * dx + dy * dy + 0.01f;
          f = 0.0001f / d2;
          vx[i] = vx[i] + dx * f;
          vy[i] = vy[i] + dy * f;
        }
      }
    }
    for (i = 0; i < 8; i++) { px[i] = px[i] + vx[i]; py[i] = py[i] + vy[i]; }
  }
  e = 0.0f;
  for (i = 0; i < 8; i++) e = e + vx[i] * vx[i] + vy[i] * vy[i];
  return (int)(e * 1000000.0f);
}
