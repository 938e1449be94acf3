/*
 * Back-office tables, as far as the synchronization reads them.
 *
 * Test fixture: builds a stand-in for the back-office database with exactly
 * the tables and columns that the table copies, their count queries and the
 * company query read, with the types the mobile tables use (see
 * db/mobile_schema.sql). The real back-office database has many more columns;
 * nothing here depends on them.
 *
 * Run it with isql after a CREATE DATABASE statement of your own; the script
 * neither creates nor connects to a database.
 *
 * No foreign keys and no triggers, so tests can insert any row they need,
 * including rows whose references point nowhere. NOT NULL marks the columns
 * the back office itself requires; every ativo is required.
 */

create table estado (
    tid              integer not null primary key,
    uf               varchar(2) character set win1252,
    descricao        varchar(150) character set win1252,
    icms             double precision,
    ativo            smallint not null,
    data             timestamp,
    dataatualizacao  timestamp,
    codibge          integer
);

create table usuario (
    tid              integer not null primary key,
    ativo            smallint not null,
    data             timestamp,
    dataatualizacao  timestamp,
    login            varchar(150) character set win1252 not null,
    senha            varchar(150) character set win1252 not null,
    nome             varchar(150) character set win1252,
    tidarea1         integer,
    tidarea2         integer,
    tidarea3         integer,
    tidarea4         integer,
    tidarea5         integer,
    tidarea6         integer,
    tidarea7         integer,
    tidarea8         integer,
    tidarea9         integer,
    tidarea10        integer
);

create table clasfiscal (
    tid              integer not null primary key,
    descricao        varchar(150) character set win1252 not null,
    ipi              double precision,
    ativo            smallint not null,
    data             timestamp,
    dataatualizacao  timestamp,
    icms             double precision,
    observacao       varchar(500) character set win1252,
    letra            varchar(2) character set win1252,
    icmsentrada      double precision,
    icmsinterno      double precision
);

/* data is not copied; it is here so tests can show that. */
create table produto (
    tid                integer not null primary key,
    codexp             varchar(150) character set win1252,
    codinterno         varchar(150) character set win1252,
    pc                 numeric(18,2),
    pl                 numeric(18,2),
    pv                 numeric(18,2),
    dataatualizacao    timestamp,
    ativo              smallint not null,
    descricao          varchar(150) character set win1252,
    tidfabricante      integer,
    tidclasfiscais     integer,
    estoqueatual       numeric(18,2) not null,
    desconto           double precision,
    origem             varchar(3) character set win1252,
    status             varchar(2) character set win1252,
    maingroup          varchar(3) character set win1252,
    tidstatus          integer,
    descontoadicional  double precision,
    minimocompravenda  numeric(18,2),
    pg                 smallint,
    desccompensa       double precision,
    pcproduto          numeric(18,2),
    data               timestamp
);

create table status (
    tid              integer not null primary key,
    status           varchar(150) character set win1252 not null,
    ativo            smallint not null,
    data             timestamp,
    dataatualizacao  timestamp
);

/* razaosocial may be NULL or blank here: such companies are skipped. */
create table empresa (
    tid                integer not null primary key,
    tiduf              integer,
    tidcondpagamento   integer,
    tidtransportadora  integer,
    tidarea            integer,
    ativo              smallint not null,
    data               timestamp,
    dataatualizacao    timestamp,
    razaosocial        varchar(150) character set win1252,
    nomefantasia       varchar(150) character set win1252,
    endereco           varchar(150) character set win1252,
    bairro             varchar(150) character set win1252,
    cidade             varchar(150) character set win1252,
    cep                varchar(150) character set win1252,
    complemento        varchar(150) character set win1252,
    telefone           varchar(150) character set win1252,
    emailcontato       varchar(150) character set win1252,
    pessoacontato      varchar(150) character set win1252,
    cnpj               varchar(150) character set win1252,
    tipoempresa        char(1) character set win1252,
    deptocontato       varchar(50) character set win1252,
    tipofrete          smallint
);

create table condpagamento (
    tid              integer not null primary key,
    nome             varchar(150) character set win1252 not null,
    parcelas         smallint,
    ativo            smallint not null,
    data             timestamp,
    dataatualizacao  timestamp,
    tipo             varchar(1) character set win1252
);

create table tabelapreco (
    tid              integer not null primary key,
    tidcliente       integer,
    tidproduto       integer not null,
    ativo            smallint not null,
    data             timestamp,
    dataatualizacao  timestamp,
    forma            varchar(15) character set win1252,
    documento        varchar(150) character set win1252,
    valor            numeric(18,2),
    pedido           varchar(150) character set win1252,
    datareferencia   timestamp,
    codcliente       varchar(150) character set win1252
);

create table transportadora (
    tid              integer not null primary key,
    nome             varchar(150) character set win1252 not null,
    endereco         varchar(150) character set win1252,
    bairro           varchar(150) character set win1252,
    cidade           varchar(150) character set win1252,
    cep              varchar(150) character set win1252,
    complemento      varchar(150) character set win1252,
    pessoaresp       varchar(150) character set win1252,
    ativo            smallint not null,
    data             timestamp,
    dataatualizacao  timestamp,
    email            varchar(150) character set win1252,
    telefone         varchar(150) character set win1252,
    razaosocial      varchar(150) character set win1252
);

/* emailusuario and datasincronizacao exist here but the copy reads neither. */
create table config (
    tid                integer not null primary key,
    smtp               varchar(60) character set win1252,
    portaemail         integer,
    usuario            varchar(50) character set win1252,
    senhaemail         varchar(40) character set win1252,
    autenticemail      varchar(3) character set win1252,
    emailusuario       varchar(100) character set win1252,
    emaildestino       varchar(100) character set win1252,
    tituloemail        varchar(80) character set win1252,
    mensagem           varchar(1000) character set win1252,
    codsoap            varchar(10) character set win1252,
    loginsoap          varchar(30) character set win1252,
    senhasoap          varchar(30) character set win1252,
    codsoapdormer      varchar(10) character set win1252,
    loginsoapdormer    varchar(30) character set win1252,
    senhasoapdormer    varchar(30) character set win1252,
    ipi                varchar(150) character set win1252 not null,
    datasincronizacao  date,
    ativo              smallint not null
);

create table area (
    tid              integer not null primary key,
    area             varchar(150) character set win1252,
    tidvendedor      integer,
    observacao       varchar(500) character set win1252,
    ativo            smallint not null,
    data             timestamp,
    dataatualizacao  timestamp
);

create table contato (
    tid              integer not null primary key,
    tidempresa       integer,
    nome             varchar(150) character set win1252,
    depto            varchar(150) character set win1252,
    telefone         varchar(150) character set win1252,
    celular          varchar(150) character set win1252,
    email            varchar(150) character set win1252,
    datanasc         timestamp,
    ativo            smallint not null,
    dataatualizacao  timestamp,
    data             timestamp
);

create table gpvendedor (
    tid              integer not null primary key,
    desconto         double precision,
    gp               double precision,
    ativo            smallint not null,
    data             timestamp,
    dataatualizacao  timestamp,
    pg               integer
);

/* An order is open while respcancel = 0 and it has an active, uninvoiced
   item (produtopedido.nf and produtopedido.fonte both NULL). */
create table pedido (
    tid              integer not null primary key,
    tidcliente       integer,
    npeddist         varchar(150) character set win1252,
    datareferencia   timestamp,
    data             timestamp,
    ativo            smallint not null,
    dataatualizacao  timestamp,
    respcancel       smallint
);

create table produtopedido (
    tid              integer not null primary key,
    tidpedido        integer,
    tidproduto       integer,
    codigointerno    varchar(150) character set win1252,
    codprodcliente   varchar(150) character set win1252,
    pp               numeric(18,2),
    valortotal       numeric(18,2),
    quantidade       numeric(18,2),
    dataentrega      date,
    ativo            smallint not null,
    data             timestamp,
    dataatualizacao  timestamp,
    npedcli          varchar(150) character set win1252,
    item             smallint,
    nf               varchar(50) character set win1252,
    fonte            varchar(50) character set win1252
);

/* respcancel holds '0', '1' or '2' (normal, cancelled, under study);
   situacao 'A' marks the quotas still open. */
create table cotanegociacao (
    tid                 integer not null primary key,
    tidcondpagamento    integer,
    tidcliente          integer,
    motivocancelamento  varchar(150) character set win1252,
    datareferencia      timestamp,
    ncotdist            varchar(150) character set win1252,
    respcancel          char(1) character set win1252,
    observacao          varchar(500) character set win1252,
    dataatualizacao     timestamp,
    data                timestamp,
    ativo               smallint not null,
    pppacote            numeric(18,2),
    enviada             varchar(3) character set win1252,
    situacao            char(1) character set win1252
);

create table produtocotanegociacao (
    tid              integer not null primary key,
    tidcotaneg       integer,
    tidproduto       integer,
    codigointerno    varchar(150) character set win1252,
    codprodcliente   varchar(150) character set win1252,
    desconto         double precision,
    quantidade       numeric(18,2),
    quantcotada      numeric(18,2),
    pp               numeric(18,2),
    prazoentrega     varchar(150) character set win1252,
    data             timestamp,
    dataatualizacao  timestamp,
    ativo            smallint not null,
    npedcliente      varchar(150) character set win1252,
    totpp            numeric(18,2),
    item             smallint,
    feedconco        varchar(20) character set win1252,
    feedprazo        varchar(20) character set win1252,
    feedpreco        varchar(20) character set win1252,
    feedritmo        varchar(20) character set win1252,
    feedprecovalor   numeric(18,2),
    feedperfo        varchar(20) character set win1252
);

create table agendavendedor (
    tid              integer not null primary key,
    tidarea          integer,
    datareferencia   timestamp,
    data             timestamp,
    dataatualizacao  timestamp,
    ativo            smallint not null,
    status           varchar(20) character set win1252
);

/* atualizarcvf, acaocoromant, criadopor, tiporateio, finalproj,
   naoimplementado and enviada are never read; they are here so tests can
   fill them and check that the mobile rows do not take them over. */
create table cvf (
    tid                integer not null primary key,
    ativo              smallint not null,
    data               timestamp,
    dataatualizacao    timestamp,
    tidcliente         integer,
    tiporelatorio      varchar(60) character set win1252,
    atualizarcvf       varchar(3) character set win1252,
    idteste            varchar(150) character set win1252,
    pessoacontato      varchar(100) character set win1252,
    descricaooperacao  varchar(1000) character set win1252,
    acaocoromant       varchar(100) character set win1252,
    beneficios         varchar(1000) character set win1252,
    economiaano        numeric(18,2),
    criadopor          varchar(100) character set win1252,
    datasubteste       timestamp,
    dataimplementacao  timestamp,
    tiporateio         varchar(50) character set win1252,
    tempoproducao      numeric(18,2),
    descricaocurta     varchar(100) character set win1252,
    distribuicao       integer,
    componente         varchar(100) character set win1252,
    finalproj          timestamp,
    naoimplementado    numeric(18,2),
    enviada            varchar(3) character set win1252
);

commit;
