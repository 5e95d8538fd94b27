function work()
  local px, py, vx, vy = {}, {}, {}, {}
  for i = 0, 7 do px[i] = i * 1.5; py[i] = i * i * 0.25; vx[i] = 0.0; vy[i] = 0.0 end
  for step = 1, 120000 do
    for i = 0, 7 do
      for j = 0, 7 do
        if i ~= j then
          local dx = px[j] - px[i]
          local dy = py[j] - py[i]
          local d2 = dx * dx + dy * dy + 0.01
          local f = 0.0001 / d2
          vx[i] = vx[i] + dx * f
          vy[i] = vy[i] + dy * f
        end
      end
    end
    for i = 0, 7 do px[i] = px[i] + vx[i]; py[i] = py[i] + vy[i] end
  end
  local e = 0.0
  for i = 0, 7 do e = e + vx[i] * vx[i] + vy[i] * vy[i] end
  return math.floor(e * 1000000.0)
end
