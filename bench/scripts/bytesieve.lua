-- a byte sieve walked by indexes in nested while loops, then a count of the gaps between primes
local marks = {}
function work()
  local count, gaps, round = 0, 0, 0
  local size = 250000
  while round < 12 do
    local p = 0
    while p < size do marks[p] = 0; p = p + 1 end
    marks[0] = 1
    marks[1] = 1
    local i = 2
    while i * i < size do
      if marks[i] == 0 then
        local q = i * i
        while q < size do marks[q] = 1; q = q + i end
      end
      i = i + 1
    end
    count, gaps, p = 0, 0, 0
    while p < size do
      local run = 0
      while p < size and marks[p] ~= 0 do run = run + 1; p = p + 1 end
      if run > gaps then gaps = run end
      if p < size then count = count + 1; p = p + 1 end
    end
    round = round + 1
  end
  return count * 100 + gaps
end
