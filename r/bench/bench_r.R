# Timings of the R package (figures in bench/RESULTS.md).
#
#   Rscript r/bench/bench_r.R records build/bench-data/100k [--cli PATH] [--python PATH] [--repeat 5]
#   Rscript r/bench/bench_r.R raster [--tiles 20x30] [--repeat 3]
#
# records: reads the tab-delimited pair PREFIX_temp.txt / PREFIX_prec.txt
# into matrices (not timed), then times water_balance() with 1 and 2
# threads, without and with carry-over (median of --repeat runs; wall and
# CPU seconds of the whole R process). With --python (a Python that has the
# vadoset package, such as build/python-venv/bin/python) it runs
# python/bench/bench_python.py on the same files right after, and with --cli
# whole runs of vadoset-cli --threads 1, so that the three are measured
# under the same load.
#
# raster: tiles the first year of the sample grid (examples/grid_*.nc, 34 x
# 50 cells) ROWSxCOLS times (20x30: 1,020,000 cells) into in-memory
# SpatRasters, and times water_balance_rast() with cores = 1 and 2, the
# default layers (53) kept in memory. main_thread_cpu_s is the CPU of R's
# own thread, which reads and writes the blocks while the others compute.

suppressPackageStartupMessages(library(vadoset))

args <- commandArgs(trailingOnly = TRUE)
option <- function(name, default) {
  i <- match(name, args)
  if (is.na(i)) default else args[i + 1]
}
what <- args[1]
repeats <- as.integer(option("--repeat", if (identical(what, "raster")) 3 else 5))

# CPU seconds of R's own thread (the one that reads and writes): its
# utime + stime in /proc (Linux).
main_thread_cpu <- function() {
  stat <- readLines(sprintf("/proc/self/task/%d/stat", Sys.getpid()), warn = FALSE)
  fields <- strsplit(sub("^.*\\) ", "", stat), " ")[[1]]
  (as.numeric(fields[12]) + as.numeric(fields[13])) / 100
}

# Wall, CPU (user + system, all threads) and main-thread CPU seconds of one
# call.
timed <- function(expr) {
  gc(FALSE)
  main <- main_thread_cpu()
  start <- proc.time()
  force(expr)
  used <- proc.time() - start
  c(wall = used[["elapsed"]], cpu = used[["user.self"]] + used[["sys.self"]], main = main_thread_cpu() - main)
}

medians <- function(f) {
  t <- vapply(seq_len(repeats), function(i) f(), c(wall = 0, cpu = 0, main = 0))
  apply(t, 1, stats::median)
}

read_tab <- function(path) {
  x <- utils::read.delim(path, header = TRUE, colClasses = c("character", rep("numeric", 13)),
                         na.strings = c("NA"), quote = "", comment.char = "")
  list(lat = x[[2]], months = as.matrix(x[, 3:14]))
}

records <- function(prefix) {
  p <- read_tab(paste0(prefix, "_prec.txt"))
  t <- read_tab(paste0(prefix, "_temp.txt"))
  n <- length(p$lat)
  cat(sprintf("records=%d\n", n))
  for (carryover in c(FALSE, TRUE)) {
    for (threads in c(1, 2)) {
      wb <- NULL
      m <- medians(function() timed(wb <<- water_balance(t$months, p$months, p$lat, carryover = carryover,
                                                         threads = threads)))
      cat(sprintf(paste("R water_balance carryover=%s threads=%d median_s=%.3f records_per_s=%.0f cpu_s=%.3f",
                        "null=%d\n"), carryover, threads, m[["wall"]], n / m[["wall"]], m[["cpu"]], sum(wb$null)))
    }
  }
  python <- option("--python", "")
  if (nzchar(python)) {
    script <- file.path(dirname(sub("^--file=", "", grep("^--file=", commandArgs(), value = TRUE))), "..", "..",
                        "python", "bench", "bench_python.py")
    out <- system2(python, c(script, "records", prefix, "--repeat", repeats), stdout = TRUE)
    cat(paste0("python ", grep("^water_balance", out, value = TRUE), collapse = "\n"), "\n", sep = "")
  }
  cli <- option("--cli", "")
  if (nzchar(cli)) {
    out <- tempfile(fileext = ".txt")
    for (carryover in c(FALSE, TRUE)) {
      m <- medians(function() {
        start <- proc.time()
        system2(cli, c("-t", paste0(prefix, "_temp.txt"), "-p", paste0(prefix, "_prec.txt"), "-o", out,
                       "--threads", "1", "--quiet", if (carryover) "--carryover"))
        used <- proc.time() - start
        c(wall = used[["elapsed"]], cpu = used[["user.child"]] + used[["sys.child"]], main = 0)
      })
      cat(sprintf("vadoset-cli carryover=%s threads=1 median_s=%.3f records_per_s=%.0f cpu_s=%.3f\n",
                  carryover, m[["wall"]], n / m[["wall"]], m[["cpu"]]))
    }
    unlink(out)
  }
}

raster <- function(tiles) {
  tiles <- as.integer(strsplit(tiles, "x")[[1]])
  tas <- terra::rast(system.file("extdata", "grid_temp.nc", package = "vadoset"))[[1:12]]
  pr <- terra::rast(system.file("extdata", "grid_prec.nc", package = "vadoset"))[[1:12]]
  tile <- function(r, offset) {
    v <- terra::as.array(r) + offset
    big <- array(0, c(dim(v)[1] * tiles[1], dim(v)[2] * tiles[2], 12))
    for (i in seq_len(tiles[1])) for (j in seq_len(tiles[2]))
      big[(i - 1) * dim(v)[1] + seq_len(dim(v)[1]), (j - 1) * dim(v)[2] + seq_len(dim(v)[2]), ] <- v
    # The tiles side by side over 30 to 70 N.
    terra::rast(big, extent = terra::ext(-10, -10 + 50 * tiles[2] / 10, 30, 70), crs = "EPSG:4326")
  }
  t <- tile(tas, -273.15)
  p <- tile(pr, 0)
  cat(sprintf("cells=%d layers_out=53\n", terra::ncell(t)))
  for (cores in c(1, 2, 1, 2)) {
    m <- medians(function() timed(water_balance_rast(t, p, cores = cores)))
    cat(sprintf("R water_balance_rast cores=%d median_s=%.2f cells_per_s=%.0f cpu_s=%.2f main_thread_cpu_s=%.2f\n",
                cores, m[["wall"]], terra::ncell(t) / m[["wall"]], m[["cpu"]], m[["main"]]))
  }
}

if (identical(what, "records")) {
  records(args[2])
} else if (identical(what, "raster")) {
  raster(option("--tiles", "20x30"))
} else {
  stop("usage: bench_r.R records PREFIX [--cli PATH] [--python PATH] [--repeat N] | raster [--tiles RxC]")
}
