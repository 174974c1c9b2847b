# Sourced by the demo and the benchmarks: windows_build VARIABLE WHO sets
# arch to the Windows build whose program they run (win32 or win64) and says
# on standard error which one and why. VARIABLE (POLVEX_DEMO_EXE,
# POLVEX_BENCH_EXE) chooses explicitly. Otherwise it is the 32-bit product,
# except where 32-bit programs are emulated: qemu's user mode keeps one
# descriptor table for all the threads of a process, 32-bit wine keeps each
# thread's thread block in a thread-local slot of it, and when a thread
# starts or exits while another runs, the other can run on the wrong block.
# The 32-bit program then dies mid-run (exit code 29 or 40, 1, or a signal)
# or hangs, whatever its code; the 64-bit build of the same code runs
# natively.
windows_build() {  # VARIABLE WHO
  local chosen=${!1:-} why
  if [ -n "$chosen" ]; then
    case $chosen in
      win32|win64) why="as $1 says" ;;
      *) echo "$2: $1 names win32 or win64, not '$chosen'" >&2; return 2 ;;
    esac
  elif why=$(cmake/wine32-native.sh); then
    chosen=win32 why="the product: 32-bit programs run natively here"
  else
    chosen=win64 why="of the same code: $why, and under qemu 32-bit wine dies mid-run when threads start and exit"
  fi
  arch=$chosen
  echo "$2: runs the ${arch#win}-bit build, $why" >&2
}
