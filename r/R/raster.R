#' The climatic water balance of every cell of a raster
#'
#' \code{\link{water_balance}} for \code{terra} rasters: every cell is a
#' record, its latitude taken from the raster's own coordinates. The raster
#' is read and written block by block through \code{terra}, so rasters
#' larger than memory work, and \code{cores} threads compute the blocks.
#'
#' @param tmean,prec \code{SpatRaster}s of monthly mean temperature
#'   (\eqn{^\circ}C) and precipitation (mm) with the same geometry: 12 layers
#'   (a climatology, January to December) or 12 x years layers (a series,
#'   January to December of each year in turn).
#' @param field_capacity mm: one number for every cell (whole millimetres,
#'   at least 1), or a one-layer \code{SpatRaster} with the same geometry
#'   giving each cell its own (a cell whose value is \code{NA} or below 1
#'   gets a null record, such as a soil map's sea).
#' @param curve The declining availability function, \code{"A"} to
#'   \code{"H"}.
#' @param carryover With a series, \code{TRUE} carries each cell's soil water
#'   and snow from each December to the next January, the first year spun up
#'   from none; \code{FALSE} brings every year to its own steady state.
#' @param keep_precipitation_fraction \code{FALSE}: precipitation in whole
#'   millimetres, as \code{vadoset-cli} reads it; \code{TRUE}: as given.
#' @param layers What to write, in this order: any of \code{"pet"},
#'   \code{"aet"}, \code{"surplus"}, \code{"deficit"}, \code{"soil"},
#'   \code{"snow"}, \code{"precip"} (12 layers each, \code{pet_01} to
#'   \code{pet_12} ...), \code{"totals"} (\code{pet_total},
#'   \code{aet_total}, \code{surplus_total}, \code{deficit_total}) and
#'   \code{"null_code"} (0 for a computed cell, else the index of its reason
#'   in \code{\link{null_codes}()}).
#' @param filename Where to write the result (any format GDAL writes, by
#'   its extension); \code{""} keeps it in memory when it fits, else in a
#'   temporary file, as \code{terra} does.
#' @param overwrite \code{TRUE} to replace an existing \code{filename}.
#' @param cores Threads that compute, R's own among them. With more than
#'   one, the others compute a block while R writes the last and reads the
#'   next, and R then helps them finish it. The results are the same for
#'   every number.
#' @param ... Options for writing the file, as \code{terra::writeRaster}'s
#'   \code{wopt} takes them: \code{datatype} (\code{"FLT4S"} by default for
#'   files; \code{"FLT8S"} keeps the numbers to the last bit), \code{gdal}
#'   creation options, \code{progress}.
#'
#' @details Latitude is the cell centre's: a raster in geographic
#' coordinates gives it directly, a projected raster's cell centres are
#' transformed to geographic latitude (WGS 84) first. A raster without a
#' coordinate reference system is taken as geographic when its extent lies
#' within -180 to 180 and -90 to 90, with a warning; otherwise it is an
#' error. \code{NA} months (the sea, say) give null cells: \code{NA} in every
#' number and their reason in \code{null_code}. The input checks of
#' \code{water_balance()} run over every block and warn once a kind.
#'
#' The numbers are those of \code{water_balance()} for the same cells, which
#' are those of \code{vadoset-cli}. In memory they are doubles; a file keeps
#' them to the last bit only with \code{datatype = "FLT8S"}.
#'
#' @return A \code{SpatRaster} with the geometry of \code{tmean} and the
#'   layers asked for, named \code{pet_01} ... \code{deficit_total},
#'   \code{null_code}; for a series, each year's layers in turn with the year
#'   at the end of the names (\code{pet_01_2011}, from the rasters' time
#'   when they have one, else \code{pet_01_1}, \code{pet_01_2} ...).
#' @seealso \code{\link{water_balance}} for tables of records.
#' @examples
#' if (requireNamespace("terra", quietly = TRUE)) {
#'   # The sample grid: 1 degree cells over Europe, 10 synthetic years.
#'   tas <- terra::rast(system.file("extdata", "grid_temp.nc", package = "vadoset"))
#'   pr <- terra::rast(system.file("extdata", "grid_prec.nc", package = "vadoset"))
#'   tmean <- tas[[1:12]] - 273.15   # kelvin to degrees Celsius, the first year
#'   wb <- water_balance_rast(tmean, pr[[1:12]], field_capacity = 150)
#'   wb[["deficit_total"]]
#'   # The ten years with carry-over: totals only.
#'   wb10 <- water_balance_rast(tas - 273.15, pr, carryover = TRUE, layers = "totals")
#'   names(wb10)[1:4]
#' }
#' @export
water_balance_rast <- function(tmean, prec, field_capacity = 100, curve = "G", carryover = FALSE,
                               keep_precipitation_fraction = FALSE,
                               layers = c("pet", "aet", "surplus", "deficit", "totals", "null_code"),
                               filename = "", overwrite = FALSE, cores = 1, ...) {
  call <- sys.call()
  if (!requireNamespace("terra", quietly = TRUE))
    vs_error("water_balance_rast needs the terra package (Debian: r-cran-terra)", call)
  for (name in c("tmean", "prec")) {
    x <- get(name)
    if (!inherits(x, "SpatRaster"))
      vs_error(sprintf("%s must be a terra SpatRaster, not %s", name, describe_value(x)), call)
  }
  nl <- terra::nlyr(tmean)
  if (nl == 0 || nl %% 12 != 0)
    vs_error(sprintf("tmean must have 12 layers (January to December) or 12 a year, not %d", nl), call)
  if (terra::nlyr(prec) != nl)
    vs_error(sprintf("prec must have as many layers as tmean (%d), not %d", nl, terra::nlyr(prec)), call)
  if (!isTRUE(terra::compareGeom(tmean, prec, stopOnError = FALSE)))
    vs_error("prec must have the geometry of tmean (extent, rows, columns, coordinate reference system)", call)
  fc_raster <- inherits(field_capacity, "SpatRaster")
  if (fc_raster) {
    if (terra::nlyr(field_capacity) != 1 || !isTRUE(terra::compareGeom(tmean, field_capacity, stopOnError = FALSE)))
      vs_error("field_capacity must be a raster of one layer with the geometry of tmean, or one number", call)
  } else {
    field_capacity <- check_field_capacity(field_capacity, call, or = "or a one-layer raster")
  }
  curve_index <- check_curve(curve, call)
  check_flag(carryover, "carryover", call)
  check_flag(keep_precipitation_fraction, "keep_precipitation_fraction", call)
  check_flag(overwrite, "overwrite", call)
  cores <- check_threads(cores, "cores", call, allow_null = FALSE)
  all_layers <- c("pet", "aet", "surplus", "deficit", "soil", "snow", "precip", "totals", "null_code")
  if (!is.character(layers) || length(layers) == 0 || anyNA(layers) || !all(layers %in% all_layers))
    vs_error(sprintf("layers must name what to write, from %s; not %s",
                     paste0('"', all_layers, '"', collapse = ", "), describe_value(layers)), call)
  layers <- all_layers[all_layers %in% layers]
  if (!is.character(filename) || length(filename) != 1 || is.na(filename))
    vs_error(sprintf("filename must be a path, or \"\" to keep the result in memory; not %s",
                     describe_value(filename)), call)

  lonlat <- raster_is_lonlat(tmean, call)
  years <- nl %/% 12
  names_one <- unlist(lapply(layers, function(q) {
    if (q == "totals") c("pet_total", "aet_total", "surplus_total", "deficit_total")
    else if (q == "null_code") "null_code"
    else sprintf("%s_%02d", q, 1:12)
  }))
  out_names <- if (years == 1) names_one else paste(rep(names_one, years),
                                                    rep(year_labels(tmean, years), each = length(names_one)),
                                                    sep = "_")
  out <- terra::rast(tmean, nlyrs = length(out_names))
  names(out) <- out_names

  nc <- terra::ncol(tmean)
  jobs <- list()  # blocks in flight, the oldest first
  opened <- list()
  writing <- FALSE
  on.exit({
    for (j in jobs) cpp_cancel(j$job)
    for (r in opened) try(terra::readStop(r), silent = TRUE)
    # A run that failed or was interrupted leaves no half-written raster
    # that would look complete.
    if (writing) {
      try(terra::writeStop(out), silent = TRUE)
      if (nzchar(filename)) unlink(filename)
    }
  })
  for (r in c(list(tmean, prec), if (fc_raster) list(field_capacity))) {
    terra::readStart(r)
    opened <- c(opened, list(r))
  }
  # terra's blocks fit memory; cut further so that several are in flight
  # while R reads and writes.
  b <- terra::writeStart(out, filename = filename, overwrite = overwrite, ...)
  writing <- TRUE
  rows <- split_blocks(b, nc, years, cores)
  checks <- new_checks()
  # Each block computes while R reads the next ones and writes the one
  # before: with more than one core, two blocks wait in flight, so that the
  # threads always have one to compute while R reads and writes.
  in_flight <- if (cores == 1) 0L else 2L
  collect <- function() {
    j <- jobs[[1]]
    v <- cpp_finish(j$job)
    jobs[[1]] <<- NULL
    checks <<- check_results(checks, v$reason)
    terra::writeValues(out, v$values, j$row, j$nrows)
  }
  for (i in seq_along(rows$row)) {
    row <- rows$row[i]
    nrows <- rows$nrows[i]
    cells <- nrows * nc
    t <- terra::readValues(tmean, row, nrows, 1, nc)
    p <- terra::readValues(prec, row, nrows, 1, nc)
    lat <- block_latitude(tmean, row, nrows, lonlat)
    fc <- if (fc_raster) terra::readValues(field_capacity, row, nrows, 1, nc) else field_capacity
    dim(t) <- dim(p) <- c(cells, nl)
    chain <- if (carryover) rep(seq_len(cells) - 1L, years) else NULL
    jobs[[length(jobs) + 1]] <- list(job = cpp_start(t, p, lat, fc, curve_index, carryover,
                                                     keep_precipitation_fraction, chain, cores, layers, "raster",
                                                     cells * years, cells),
                                     row = row, nrows = nrows)
    checks <- check_inputs(checks, t, p, lat, keep_precipitation_fraction, cells * years,
                           cell_place((row - 1) * nc, nc))
    while (length(jobs) > in_flight) collect()
  }
  while (length(jobs) > 0) collect()
  writing <- FALSE
  out <- terra::writeStop(out)
  for (w in input_warnings(checks)) vs_warning(w, call)
  out
}

# Whether a raster's coordinates are longitude and latitude; a raster
# without a coordinate reference system is, when its extent can be.
raster_is_lonlat <- function(x, call) {
  crs <- terra::crs(x)
  if (!nzchar(crs)) {
    e <- as.vector(terra::ext(x))
    if (e[1] >= -180 && e[2] <= 180 && e[3] >= -90 && e[4] <= 90) {
      vs_warning(paste("tmean has no coordinate reference system: its y coordinates are taken as latitudes",
                       "(set one with terra::crs(x) <- \"EPSG:4326\")"), call)
      return(TRUE)
    }
    vs_error(paste("tmean has no coordinate reference system and its extent is not longitude and latitude:",
                   "set its crs with terra::crs()"), call)
  }
  terra::is.lonlat(x, perhaps = TRUE, warn = FALSE)
}

# The latitude of every cell of rows row to row + nrows - 1.
block_latitude <- function(x, row, nrows, lonlat) {
  nc <- terra::ncol(x)
  if (lonlat) return(rep(terra::yFromRow(x, row:(row + nrows - 1)), each = nc))
  cells <- ((row - 1) * nc + 1):((row + nrows - 1) * nc)
  xy <- terra::xyFromCell(x, cells)
  terra::project(xy, from = terra::crs(x), to = "+proj=longlat +datum=WGS84")[, 2]
}

# terra's write blocks cut into pieces of about 50,000 records (the option
# vadoset.block_records), at least a row each, so that threads always have
# the next block while R reads and writes.
split_blocks <- function(b, nc, years, cores) {
  per <- max(1L, as.integer(getOption("vadoset.block_records", 50000) %/% (nc * years)))
  row <- integer()
  nrows <- integer()
  for (i in seq_len(b$n)) {
    starts <- seq(b$row[i], b$row[i] + b$nrows[i] - 1, by = per)
    row <- c(row, starts)
    nrows <- c(nrows, pmin(per, b$row[i] + b$nrows[i] - starts))
  }
  list(row = row, nrows = nrows)
}

# A year's label for the layer names: the year of its January layer when the
# raster has a time, else 1, 2, ...
year_labels <- function(x, years) {
  tm <- tryCatch(terra::time(x), error = function(e) NULL)
  if (!is.null(tm) && length(tm) == years * 12 && !anyNA(tm) && inherits(tm, c("Date", "POSIXt"))) {
    y <- format(tm[seq(1, by = 12, length.out = years)], "%Y")
    if (!anyDuplicated(y)) return(y)
  }
  as.character(seq_len(years))
}

# Where a value is, for the input checks' messages: "cell 1234, layer 5: 250".
cell_place <- function(first_cell, nc) {
  function(row, column, value) {
    cell <- first_cell + row
    if (is.na(column)) return(sprintf("cell %.0f (row %.0f): %s", cell, (cell - 1) %/% nc + 1, value))
    sprintf("cell %.0f, layer %d: %s", cell, column, value)
  }
}
