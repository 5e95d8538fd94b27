function work()
  local code = {[0] = 1, 2, 3, 4, 5, 6, 7, 0}
  local acc, x, pc = 0, 1, 0
  for steps = 1, 9000000 do
    local op = code[pc]
    if op == 0 then pc = 0
    elseif op == 1 then acc = acc + x; pc = pc + 1
    elseif op == 2 then x = x * 3 % 1000; pc = pc + 1
    elseif op == 3 then acc = acc ~ x; pc = pc + 1
    elseif op == 4 then if acc & 1 ~= 0 then x = x + 1 end; pc = pc + 1
    elseif op == 5 then acc = acc - (x >> 1); pc = pc + 1
    elseif op == 6 then acc = acc & 0xfffffff; pc = pc + 1
    else x = x + 7; pc = pc + 1 end
  end
  return acc + x
end
