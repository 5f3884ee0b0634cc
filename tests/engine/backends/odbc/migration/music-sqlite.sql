-- A small record shop in SQLite, the source of the migration tests:
-- postgres/kesmark_music.sql is the same database moved to PostgreSQL with
-- the types a migration chooses, postgres/kesmark_music_lower.sql the same
-- again with names left unquoted, so folded to lower case.
CREATE TABLE Artist (
    ArtistId INTEGER NOT NULL,
    Name NVARCHAR(120),
    CONSTRAINT PK_Artist PRIMARY KEY (ArtistId)
);

CREATE TABLE Album (
    AlbumId INTEGER NOT NULL,
    Title NVARCHAR(160) NOT NULL,
    ArtistId INTEGER NOT NULL,
    CONSTRAINT PK_Album PRIMARY KEY (AlbumId),
    CONSTRAINT FK_AlbumArtistId FOREIGN KEY (ArtistId) REFERENCES Artist (ArtistId)
);
CREATE INDEX IFK_AlbumArtistId ON Album (ArtistId);

CREATE TABLE Genre (
    GenreId INTEGER NOT NULL,
    Name NVARCHAR(120),
    CONSTRAINT PK_Genre PRIMARY KEY (GenreId)
);

CREATE TABLE Track (
    TrackId INTEGER NOT NULL,
    Name NVARCHAR(200) NOT NULL,
    AlbumId INTEGER,
    GenreId INTEGER,
    Composer NVARCHAR(220),
    Milliseconds INTEGER NOT NULL,
    UnitPrice NUMERIC(10,2) NOT NULL,
    Explicit BOOLEAN NOT NULL DEFAULT 0,
    Rating REAL,
    Lyrics TEXT,
    Cover BLOB,
    CONSTRAINT PK_Track PRIMARY KEY (TrackId),
    FOREIGN KEY (AlbumId) REFERENCES Album (AlbumId) ON DELETE CASCADE,
    FOREIGN KEY (GenreId) REFERENCES Genre (GenreId)
);
CREATE INDEX IFK_TrackAlbumId ON Track (AlbumId);
CREATE INDEX IFK_TrackGenreId ON Track (GenreId);

CREATE TABLE Customer (
    CustomerId INTEGER NOT NULL,
    FirstName NVARCHAR(40) NOT NULL,
    LastName NVARCHAR(20) NOT NULL,
    Email NVARCHAR(60) NOT NULL UNIQUE,
    Country NVARCHAR(40) DEFAULT 'USA',
    Fax NVARCHAR(24) DEFAULT NULL,
    BirthDate DATETIME,
    Joined DATE,
    CONSTRAINT PK_Customer PRIMARY KEY (CustomerId)
);

CREATE TABLE Invoice (
    InvoiceId INTEGER NOT NULL,
    CustomerId INTEGER NOT NULL,
    InvoiceDate DATETIME NOT NULL,
    Total NUMERIC(10,2) NOT NULL,
    CONSTRAINT PK_Invoice PRIMARY KEY (InvoiceId),
    CONSTRAINT FK_InvoiceCustomerId FOREIGN KEY (CustomerId) REFERENCES Customer (CustomerId)
);
CREATE INDEX IFK_InvoiceCustomerId ON Invoice (CustomerId);
CREATE INDEX IX_InvoiceDate ON Invoice (InvoiceDate DESC);

CREATE TABLE InvoiceLine (
    InvoiceLineId INTEGER NOT NULL,
    InvoiceId INTEGER NOT NULL,
    TrackId INTEGER NOT NULL,
    UnitPrice NUMERIC(10,2) NOT NULL,
    Quantity INTEGER NOT NULL DEFAULT 1,
    CONSTRAINT PK_InvoiceLine PRIMARY KEY (InvoiceLineId),
    CONSTRAINT FK_InvoiceLineInvoiceId FOREIGN KEY (InvoiceId) REFERENCES Invoice (InvoiceId),
    CONSTRAINT FK_InvoiceLineTrackId FOREIGN KEY (TrackId) REFERENCES Track (TrackId)
);

CREATE TABLE Playlist (
    PlaylistId INTEGER NOT NULL,
    Name NVARCHAR(120),
    CONSTRAINT PK_Playlist PRIMARY KEY (PlaylistId)
);

CREATE TABLE PlaylistTrack (
    PlaylistId INTEGER NOT NULL,
    TrackId INTEGER NOT NULL,
    CONSTRAINT PK_PlaylistTrack PRIMARY KEY (PlaylistId, TrackId),
    CONSTRAINT FK_PlaylistTrackPlaylistId FOREIGN KEY (PlaylistId) REFERENCES Playlist (PlaylistId),
    CONSTRAINT FK_PlaylistTrackTrackId FOREIGN KEY (TrackId) REFERENCES Track (TrackId)
);

CREATE VIEW AlbumTracks AS
    SELECT Album.Title AS Album, Track.Name AS Track, Track.UnitPrice AS Price
    FROM Album JOIN Track ON Track.AlbumId = Album.AlbumId;

INSERT INTO Artist VALUES (1, 'AC/DC'), (2, 'Accept'), (3, 'Aerosmith'), (4, 'Björk'),
    (5, NULL);
INSERT INTO Genre VALUES (1, 'Rock'), (2, 'Jazz'), (3, 'Metal'), (4, '');
INSERT INTO Album VALUES (1, 'For Those About To Rock', 1), (2, 'Balls to the Wall', 2),
    (3, 'Restless and Wild', 2), (4, 'Big Ones', 3), (5, 'Homogenic', 4);
INSERT INTO Track VALUES
    (1, 'For Those About To Rock (We Salute You)', 1, 1, 'Angus Young, Malcolm Young', 343719,
     0.99, 0, 4.5, NULL, NULL),
    (2, 'Balls to the Wall', 2, 1, NULL, 342562, 1.98, 1, 0.1, 'Hey you', X'00FF10'),
    (3, 'Fast As a Shark', 3, 3, 'F. Baltes', 230619, 2.00, 0, NULL, '', X''),
    (4, 'Restless and Wild', 3, 3, NULL, 252051, 0.99, 1, 3.25, 'Ünïcödé lines', NULL),
    (5, 'Walk On Water', 4, 1, 'Steven Tyler', 295680, 1.5, 0, 1e-3, NULL, X'DEADBEEF'),
    (6, 'Jóga', 5, 2, 'Björk', 305000, 12.34, 0, 5, NULL, NULL),
    (7, 'Hunter', NULL, NULL, NULL, 255000, 0.99, 1, NULL, NULL, NULL);
INSERT INTO Customer VALUES
    (1, 'Luís', 'Gonçalves', 'luisg@example.com', 'Brazil', NULL, '1962-02-18 00:00:00',
     '2009-01-01'),
    (2, 'Leonie', 'Köhler', 'leonekohler@example.com', 'Germany', '+49 0711 2842222',
     '1958-12-08 00:00:00', '2009-01-02'),
    (3, 'François', 'Tremblay', 'ftremblay@example.com', 'Canada', NULL, '1973-08-29 09:30:00',
     NULL),
    (4, 'Frank', 'Harris', 'fharris@example.com', 'USA', NULL, NULL, '2010-03-11');
INSERT INTO Invoice VALUES
    (1, 2, '2009-01-01 00:00:00', 1.98),
    (2, 4, '2009-01-02 00:00:00', 3.96),
    (3, 1, '2009-01-03 00:00:00', 5.94),
    (4, 3, '2009-01-06 14:05:10', 8.91),
    (5, 1, '2009-01-11 00:00:00', 13.86);
INSERT INTO InvoiceLine VALUES
    (1, 1, 2, 0.99, 1), (2, 1, 4, 0.99, 1), (3, 2, 6, 0.99, 4), (4, 3, 1, 0.99, 6),
    (5, 4, 3, 0.99, 9), (6, 5, 5, 0.99, 14);
INSERT INTO Playlist VALUES (1, 'Music'), (2, 'Movies'), (3, NULL);
INSERT INTO PlaylistTrack VALUES (1, 1), (1, 2), (1, 3), (2, 6), (3, 7);
