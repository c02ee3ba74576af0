skip_if_not_installed("terra")

grid <- function(kind) {
  r <- terra::rast(sample_file(if (kind == "t") "grid_temp.nc" else "grid_prec.nc"))
  if (kind == "t") r - 273.15 else r
}

# water_balance() on the raster's cells, as a data frame.
matrix_path <- function(t, p, lat, ...) {
  years <- terra::nlyr(t) %/% 12
  tv <- terra::values(t)
  pv <- terra::values(p)
  cells <- nrow(tv)
  # Cell c of year y is row (y - 1) * cells + c.
  by_year <- function(v) do.call(rbind, lapply(seq_len(years), function(y) v[, (y - 1) * 12 + 1:12]))
  water_balance(by_year(tv), by_year(pv), rep(lat, years), ...)
}

expect_cells_equal <- function(rast, wb, names) {
  v <- terra::values(rast)
  for (nm in names) expect_identical(unname(v[, nm]), wb[[sub("_[0-9]{4}$", "", nm)]], label = nm)
}

test_that("the raster path equals the matrix path cell by cell, in blocks and on threads", {
  t <- grid("t")[[13:24]]
  p <- grid("p")[[13:24]]
  # A soil map with its own sea.
  fc <- terra::rast(t, nlyrs = 1)
  terra::values(fc) <- rep(c(50, 100, 150, 250, NA), length.out = terra::ncell(t))
  lat <- terra::yFromCell(t, seq_len(terra::ncell(t)))
  wb <- suppressWarnings(matrix_path(t, p, lat, field_capacity = terra::values(fc)[, 1], curve = "C"))
  old <- options(vadoset.block_records = 333)  # several blocks, not whole rows
  on.exit(options(old))
  for (cores in c(1, 2)) {
    r <- water_balance_rast(t, p, field_capacity = fc, curve = "C", cores = cores,
                            layers = c("pet", "aet", "soil", "totals", "null_code"))
    expect_identical(names(r)[c(1, 13, 25, 37, 41)], c("pet_01", "aet_01", "soil_01", "pet_total", "null_code"))
    expect_cells_equal(r, wb, c("pet_01", "aet_07", "soil_12", "deficit_total", "aet_total"))
    expect_identical(unname(terra::values(r)[, "null_code"]), as.numeric(ifelse(wb$null, wb$null_code, 0)))
  }
})

test_that("a series with carry-over is one chain a cell, and a file keeps the doubles", {
  t <- grid("t")[[1:36]]
  p <- grid("p")[[1:36]]
  lat <- terra::yFromCell(t, seq_len(terra::ncell(t)))
  cells <- terra::ncell(t)
  wb <- matrix_path(t, p, lat, carryover = TRUE, site = rep(seq_len(cells), 3))
  out <- tempfile(fileext = ".tif")
  on.exit(unlink(out))
  old <- options(vadoset.block_records = 1000)
  on.exit(options(old), add = TRUE)
  r <- water_balance_rast(t, p, carryover = TRUE, layers = c("totals", "null_code"), filename = out,
                          cores = 2, datatype = "FLT8S")
  expect_identical(names(r)[1:6], c("pet_total_2011", "aet_total_2011", "surplus_total_2011",
                                    "deficit_total_2011", "null_code_2011", "pet_total_2012"))
  v <- terra::values(r)
  for (y in 1:3) {
    rows <- (y - 1) * cells + seq_len(cells)
    nm <- sprintf("surplus_total_%d", 2010 + y)
    expect_identical(unname(v[, nm]), wb$surplus_total[rows], label = nm)
  }
})

test_that("a projected raster takes the latitude of its cell centres", {
  t <- grid("t")[[1:12]]
  p <- grid("p")[[1:12]]
  # Web Mercator: the latitude of y is atan(sinh(y / R)), R the sphere's radius.
  merc <- terra::rast(nrows = 4, ncols = 3, nlyrs = 12, xmin = 0, xmax = 3e5, ymin = 5e6, ymax = 9e6,
                      crs = "EPSG:3857")
  terra::values(merc) <- terra::values(t)[1:12, ]
  pm <- merc
  terra::values(pm) <- terra::values(p)[1:12, ]
  r <- water_balance_rast(merc, pm, layers = "totals")
  lat <- atan(sinh(terra::yFromCell(merc, 1:12) / 6378137)) * 180 / pi
  wb <- water_balance(terra::values(merc), terra::values(pm), lat)
  expect_equal(unname(terra::values(r)[, "pet_total"]), wb$pet_total, tolerance = 1e-9)
})
